/* Stands in for the system's tasklist, beside the host under measurement:
 * it always lists the desktop application, so the host runs its event loop. */
#include <stdio.h>

int main(void) {
  puts("Tolvanik.exe                  4242 Console                    1     10,000 K");
  return 0;
}
