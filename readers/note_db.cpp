#include "readers/note_db.h"
