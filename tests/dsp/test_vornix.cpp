#include <gtest/gtest.h>
#include "VornixTestUtil.h"
