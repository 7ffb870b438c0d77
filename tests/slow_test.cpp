// A picture over 2 GiB, kept sparse on disk and converted into a null device
// made for the test, so that it costs time but no space: the report must
// give the true 64-bit sizes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>

#include "kvr_encode.h"
#include "run_torvan.h"

TEST(Slow, SparsePictureOverTwoGibibytes)
{
    const std::string dir = makeTempDir();
    writeFile(dir + "/big.kvr", kvrBytes(validKvrHeader(32768, 32768), {}));
    ASSERT_EQ(truncate((dir + "/big.kvr").c_str(), 88 + 2ll * 32768 * 32768), 0);
    ASSERT_EQ(mknod((dir + "/null.dev").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);

    RunResult result = runTorvan({"big.kvr", "null.dev"}, dir);

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, std::string(BANNER) +
                                 "`big.kvr' (2147483736 B) -> `null.dev' (2147489280 B)\n"
                                 "Verze KVR: 2\nKomprese KVR: NE\nRozmery (S x V): 32768 x 32768\n"
                                 "Cas porizeni: 9.10.2004; 11:21:4.50\n");
    std::filesystem::remove_all(dir);
}
