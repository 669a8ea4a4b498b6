#include "sqlbuilder.h"
