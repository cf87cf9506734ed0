#include "readers/calendar_db.h"
