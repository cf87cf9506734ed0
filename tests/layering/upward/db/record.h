#pragma once
// A record model that reaches up to a reader: the layer check must refuse it.
#include "readers/message_db.h"
