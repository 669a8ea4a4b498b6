#include "threadpost.h"
