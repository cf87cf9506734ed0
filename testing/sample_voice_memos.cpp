#include "testing/sample_voice_memos.h"
