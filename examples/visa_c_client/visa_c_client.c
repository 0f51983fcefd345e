/* A minimal VISA client in C: opens a resource, sends one query and prints the
 * reply. It links only against libtkvisa.so and includes only visa.h, as any
 * existing VISA program would.
 *
 *   visa_c_client TCPIP::127.0.0.1::5025::SOCKET "*IDN?"
 */
#include <stdio.h>
#include <string.h>

#include "visa.h"

static int Fail(ViSession rm, const char* pszWhat, ViStatus status) {
    ViChar szDesc[VI_FIND_BUFLEN];
    viStatusDesc(rm, status, szDesc);
    fprintf(stderr, "%s failed: %s\n", pszWhat, szDesc);
    if (rm != VI_NULL) {
        viClose(rm);
    }
    return 1;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s <resource> [query]\n", argv[0]);
        return 2;
    }
    const char* pszQuery = argc > 2 ? argv[2] : "*IDN?";
    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
    ViStatus status = viOpenDefaultRM(&rm);
    if (status < VI_SUCCESS) {
        return Fail(VI_NULL, "viOpenDefaultRM", status);
    }
    status = viOpen(rm, argv[1], VI_NO_LOCK, 2000, &vi);
    if (status < VI_SUCCESS) {
        return Fail(rm, "viOpen", status);
    }
    /* Socket replies end with a line feed. */
    viSetAttribute(vi, VI_ATTR_TERMCHAR, '\n');
    viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, VI_TRUE);

    /* A formatted query ... */
    ViChar szReply[VI_FMT_UNBOUNDED_MAX];
    status = viQueryf(vi, "%s\n", "%T", pszQuery, szReply);
    if (status < VI_SUCCESS) {
        return Fail(rm, "viQueryf", status);
    }
    printf("viQueryf: %s", szReply);

    /* ... and the same query with raw writes and reads. */
    char szCommand[256];
    snprintf(szCommand, sizeof szCommand, "%s\n", pszQuery);
    ViUInt32 nCount = 0;
    status = viWrite(vi, (ViConstBuf)szCommand, (ViUInt32)strlen(szCommand), &nCount);
    if (status < VI_SUCCESS) {
        return Fail(rm, "viWrite", status);
    }
    ViByte reply[256];
    status = viRead(vi, reply, sizeof reply - 1, &nCount);
    if (status < VI_SUCCESS) {
        return Fail(rm, "viRead", status);
    }
    reply[nCount] = '\0';
    printf("viRead: %s", (const char*)reply);

    /* Closing the resource manager closes the instrument session too. */
    viClose(rm);
    return 0;
}
