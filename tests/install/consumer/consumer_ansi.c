/* A C99 program outside the project, built against an installed TARVEK
 * through its IVI-ANSI-C interface only: opens a simulated session, sets and
 * reads back a level, reads the model by the size protocol. */
#include <stdio.h>
#include <stdlib.h>

#include "tk6x1x.h"

int main(void) {
    TK6x1xSession session = TK6X1X_INVALID_SESSION;
    int32_t status =
        TK6x1x_init_with_options("", true, true, "Simulate=true;DriverSetup=Model:6512", &session);
    if (status < 0) {
        char text[512] = "";
        size_t size = 0;
        TK6x1x_last_error_message(TK6X1X_INVALID_SESSION, sizeof text, text, &size);
        fprintf(stderr, "init failed: 0x%08lX %s\n", (unsigned long)status, text);
        return 1;
    }
    double level = 0.0;
    size_t size = 0;
    char* model = NULL;
    status = TK6x1x_voltage_level_set(session, "CH1", 4.5);
    if (status >= 0) {
        status = TK6x1x_voltage_level_get(session, "CH1", &level);
    }
    if (status >= 0) {
        status = TK6x1x_instrument_model_get(session, 0, NULL, &size);
    }
    if (status >= 0 && (model = malloc(size)) != NULL) {
        status = TK6x1x_instrument_model_get(session, size, model, &size);
    }
    TK6x1x_close(session);
    if (status < 0 || model == NULL) {
        fprintf(stderr, "call failed: 0x%08lX\n", (unsigned long)status);
        free(model);
        return 1;
    }
    printf("IVI-ANSI-C: model %s, CH1 at %.2f V\n", model, level);
    free(model);
    return 0;
}
