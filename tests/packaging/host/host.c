/* A host program built against an installed copy of the library, the way a
 * customer builds one: it asks the library for the text of a result code,
 * which needs no server, and prints it. */
#include <stdio.h>
#include <tqBsePluginControlDll.h>

int main(void)
{
    char text[256] = "";
    const int32_t rc = tqBsePluginControlDll_GetErrorMsg(TQBSE_NO_RESPONSE, text, (int32_t)sizeof text);
    printf("%d %s\n", (int)rc, text);
    return rc == 0 && text[0] != '\0' ? 0 : 1;
}
