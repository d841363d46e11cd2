#include "host/host_services.h"
#include "photo_tree.h"

#include <gtest/gtest.h>

TEST(Files, CopyKeepsSource)
{
    PhotoTree tree;
    tree.writePhoto("a.jpg");
    ASSERT_TRUE(host().copyFile(tree.path("a.jpg"), tree.path("b.jpg")));
    EXPECT_EQ(tree.readFile("a.jpg"), tree.readFile("b.jpg"));
}
