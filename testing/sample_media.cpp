#include "testing/sample_media.h"
