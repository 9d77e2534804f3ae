#include <vornix/CVornix.h>
