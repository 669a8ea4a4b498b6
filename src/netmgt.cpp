#include "netmgt.h"
