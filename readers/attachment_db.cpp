#include "readers/attachment_db.h"
