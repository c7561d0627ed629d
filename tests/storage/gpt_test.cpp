#include "storage_fixture.h"
