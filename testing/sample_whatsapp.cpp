#include "testing/sample_whatsapp.h"
