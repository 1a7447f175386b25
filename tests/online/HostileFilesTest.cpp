// The text-file reader on what is no ordinary file.

#include <gtest/gtest.h>

#include "AspectData.h"
#include "HostileFiles.h"
#include "TestData.h"

TEST(HostileFiles, TextReaderRefusesFifosAndDevicesAtOnce) {
    TestData::ScratchDir dir;
    const std::string fifo = TestData::MakeFifo(dir / "aspect.xml");
    for (const std::string& path : {fifo, TestData::kEndlessDevice}) {
        SCOPED_TRACE(path);
        int read = 0;
        std::string text = "old";
        ASSERT_TRUE(TestData::ReturnsWithoutWaiting(fifo, [&] { read = ReadTextFile(path, text); }));
        EXPECT_EQ(read, -1);
        EXPECT_EQ(text, "");
    }
}
