#include "readers/voice_memo_db.h"
