#include "catalogue/photo_catalogue.h"
