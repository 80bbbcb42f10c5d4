/* A plain C program that drives a discovery through libvep's exported functions alone and
 * prints one line per device event: ID, interface, address, name, type. */
#include <stdio.h>

#include "protocol/VEP.h"

static void OnEvent(uint32_t event, void* record) {
  if (event == vepDeviceFound) {
    const TVEPDeviceEvent* device = (const TVEPDeviceEvent*)record;
    printf("%s %s %s %s %s\n", device->ID, device->Interface, device->IPAddress, device->Name,
           device->Type);
    fflush(stdout);
  }
}

int main(void) {
  if (!VEPStartEngine()) return 1;
  VEPSetApplicationCallback(OnEvent, 0);
  for (int i = 0; i < 5; ++i) {
    VEPDiscover();
    VEPProcessEvents(500);
  }
  VEPProcessEvents(1000);
  return 0;
}
