#include "testing/sample_notes.h"
