#include "app/run_front_end.h"
