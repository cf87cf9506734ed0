#include "app/reports.h"
