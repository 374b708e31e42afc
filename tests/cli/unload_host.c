/* A host that loads the shared library, initialises it against a server at
 * 127.0.0.A, calls, shuts down and unloads it (dlclose), then talks to the
 * callback listener that Shutdown leaves running, and goes on living: as
 * .NET, Mono and LabVIEW unload native libraries. Repeated ROUNDS times.
 * unload_host LIBRARY A ROUNDS; exit 0 when every round worked. */
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

typedef int32_t (*Initialise)(int32_t, int32_t, int32_t, int32_t);
typedef int32_t (*Shutdown)(void);
typedef int32_t (*GetFrequency)(int32_t, double*);

/* Sends one message to the callback port and reads the answer. */
static int askListener(const char* message, char* answer, size_t size)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in to;
    struct timeval limit = {5, 0};
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(6009);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (connect(s, (struct sockaddr*)&to, sizeof to) != 0 || send(s, message, strlen(message), 0) < 0) {
        close(s);
        return -1;
    }
    const ssize_t n = recv(s, answer, size - 1, 0);
    close(s);
    if (n <= 0)
        return -1;
    answer[n] = '\0';
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const int octet = atoi(argv[2]);
    const int rounds = atoi(argv[3]);
    for (int round = 0; round < rounds && round < 100; ++round) {
        void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
        if (library == NULL) {
            fprintf(stderr, "round %d: %s\n", round, dlerror());
            return 1;
        }
        Initialise initialise = (Initialise)dlsym(library, "tqBsePluginControlDll_Initialise");
        Shutdown shutdown = (Shutdown)dlsym(library, "tqBsePluginControlDll_Shutdown");
        GetFrequency get = (GetFrequency)dlsym(library, "tqBsePluginControlDll_RX_CentreFrequency_Get");
        double frequency = 0;
        if (!initialise || !shutdown || !get || initialise(127, 0, 0, octet) != 0 || get(0, &frequency) != 0) {
            fprintf(stderr, "round %d: the library did not work\n", round);
            return 1;
        }
        shutdown();
        dlclose(library);
        /* The listener thread wakes for this peer: it must find its code. */
        char answer[256];
        if (askListener("ping=()", answer, sizeof answer) != 0 || strcmp(answer, "ping=(n=f8ffffff)") != 0) {
            fprintf(stderr, "round %d: the listener did not answer\n", round);
            return 1;
        }
    }
    printf("%d rounds: loaded, initialised, unloaded, still alive\n", rounds);
    return 0;
}
