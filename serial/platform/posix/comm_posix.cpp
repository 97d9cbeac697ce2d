#include "comm_api.h"
