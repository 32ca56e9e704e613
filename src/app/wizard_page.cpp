#include "app/wizard_page.h"
