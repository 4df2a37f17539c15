#include "api/HttpTransport.h"
