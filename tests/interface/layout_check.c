/* The public header compiles as C; on 32-bit targets its layout checks run here too. */
#include "em_driver.h"

int LayoutCheckedInC(void) {
    return (int)sizeof(DriverState);
}
