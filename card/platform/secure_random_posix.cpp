#include "secure_random.h"
