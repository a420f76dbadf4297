/* Connects through the module's C functions and reads the cooling. */
#include <stdio.h>

#include <tarnscsi/tarnscsi.h>

int main(void) {
    const char* error = "";
    if (Connect(&error) != 1) {
        printf("Connect failed: %s\n", error);
        return 1;
    }
    int32_t cooling = -1;
    const int32_t temperature = GetCoolingInfo(&cooling);
    Disconnect();
    if (temperature == TARNSCSI_NO_READING) {
        printf("Connected, but no cooling reading\n");
        return 1;
    }
    printf("Connected: temperature %d, cooling %d\n", (int)temperature, (int)cooling);
    return 0;
}
