#include "dbmgt.h"
