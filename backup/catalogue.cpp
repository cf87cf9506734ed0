#include "backup/catalogue.h"
