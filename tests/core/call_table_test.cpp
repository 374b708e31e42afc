#include <gtest/gtest.h>
#include "api/call_table.h"
TEST(Smoke, TableHas75Rows) { EXPECT_EQ(tqbse::allCalls().size(), 75u); }
