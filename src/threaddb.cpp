#include "threaddb.h"
