/* An application as a C user writes it against the installed headers and
 * pkg-config files: open the line, power the card up, read its serial
 * number and print it as 16 hex digits. Usage: read_serial_c PORT */
#include <orvel.h>
#include <tarvex.h>

#include <stdio.h>
#include <stdlib.h>

/* Card information block 0xA1 under the proprietary class: the serial. */
enum {
    kClaProprietary = 0x80,
    kInfoP1 = 0x02,
    kInfoSerialNumber = 0xA1,
    kSerialLength = 8
};

int main(int argc, char **argv)
{
    unsigned char serial[kSerialLength + 1];
    int port, opened, rc, i;

    if (argc != 2) {
        fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    port = atoi(argv[1]);

    COM_Initialize(port, 9600, 8, 'N', 1, 1000);
    opened = COM_Open(port);
    if (opened != 1) {
        fprintf(stderr, "COM_Open(%d) returned %d\n", port, opened);
        return 1;
    }
    rc = Gcr400PowerOn(port);
    if (rc != 0) {
        fprintf(stderr, "Gcr400PowerOn returned %d\n", rc);
        COM_Close(port);
        return 1;
    }
    rc = OrvelGetInfo(port, kClaProprietary, kInfoP1, kInfoSerialNumber, serial);
    Gcr400PowerOff(port);
    COM_Close(port);
    if (rc != 0) {
        fprintf(stderr, "OrvelGetInfo returned %d\n", rc);
        return 1;
    }
    for (i = 0; i < kSerialLength; ++i)
        printf("%02X", serial[i]);
    printf("\n");
    return 0;
}
