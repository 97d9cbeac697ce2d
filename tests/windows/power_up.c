/* A C application that knows only tarvex.h, orvel.h and the import
 * libraries: it opens COM<port>, powers the card up and down and closes the
 * port. Exit status 0 when every step succeeded.
 *   power_up [PORT]     (default: $ORVEL_TEST_PORT) */
#include <stdio.h>
#include <stdlib.h>

#include "orvel.h"
#include "tarvex.h"

int main(int argc, char **argv) {
    int port, opened, on, off;
    const char *text = argc > 1 ? argv[1] : getenv("ORVEL_TEST_PORT");
    if (text == NULL || *text == '\0') {
        fprintf(stderr, "usage: power_up PORT\n");
        return 2;
    }
    port = atoi(text);
    COM_Initialize(port, 9600, 8, 'N', 1, 1000);
    opened = COM_Open(port);
    if (opened != 1) {
        printf("COM_Open(%d) = %d\n", port, opened);
        return 1;
    }
    on = Gcr400PowerOn(port);
    off = Gcr400PowerOff(port);
    COM_Close(port);
    printf("COM%d: Gcr400PowerOn = %d, Gcr400PowerOff = %d\n", port, on, off);
    return on == 0 && off == 0 ? 0 : 1;
}
