// The main of every test binary that runs the library's internals in
// process: the library's ports are moved to free ones before any test runs.
#include <gmock/gmock.h>

#include "support/sockets.h"

int main(int argc, char** argv)
{
    testing::InitGoogleMock(&argc, argv);
    tqbse::test::moveLibraryPorts();
    return RUN_ALL_TESTS();
}
