#include "app/product_config.h"
