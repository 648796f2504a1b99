#include "announcement.h"
