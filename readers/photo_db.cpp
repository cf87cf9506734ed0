#include "readers/photo_db.h"
