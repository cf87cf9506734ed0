#include "app/process.h"
