#include "testing/sample_calendar.h"
