/* Scoutor's VEP library: discover, configure and upgrade VEP devices from C or C++.
 *
 * Requests are fire-and-forget; replies, diagnostics and upload progress come back as events
 * on one application callback, always on the thread that runs the engine's main-thread work
 * (the thread that started the engine, inside VEPProcessEvents in programs without a GUI loop).
 * Texts in event records belong to the library and are valid only during the callback. */
#ifndef SCOUTOR_VEP_H
#define SCOUTOR_VEP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VEP_API __attribute__((visibility("default")))
#else
#define VEP_API
#endif

/* Event codes passed to the application callback. */
enum {
  vepMessage = 0,        /* TVEPMessageEvent: a diagnostic */
  vepDeviceFound = 1,    /* TVEPDeviceEvent: a device answered discovery */
  vepIPConfig = 2,       /* TVEPIPConfigEvent: a device reported its IP settings */
  vepIPSet = 3,          /* TVEPIPSetEvent: a device acknowledged new IP settings */
  vepUpgradeProgress = 4 /* TVEPProgressEvent: firmware upload progress */
};

/* TVEPProgressEvent.Kind */
enum { upStarted = 0, upProgress = 1, upEnded = 2 };

/* Flags of VEPSetApplicationCallback; a flag once set stays set. */
enum { MessageEventsFlag = 1, MessageBoxFlag = 2 };

typedef void (*TVEPApplicationCallback)(uint32_t event, void* record);

typedef struct {
  const char* Text;
} TVEPMessageEvent;

typedef struct {
  const char* ID;        /* the device's ID text, e.g. "00:0A:1B:2C:3D:4E" */
  const char* Interface; /* dotted address of the local interface that heard the reply */
  const char* IPAddress; /* dotted source address of the reply */
  const char* Name;
  const char* Type;
} TVEPDeviceEvent;

typedef struct {
  const char* ID;
  const char* Interface;
  const char* IPAddress;
  const char* SubnetMask;
  const char* DefaultGateway;
  unsigned char DHCP; /* 1: the device obtains its address by DHCP */
} TVEPIPConfigEvent;

typedef struct {
  const char* ID;
  const char* IPAddress; /* dotted source address of the acknowledgement */
} TVEPIPSetEvent;

typedef struct {
  int32_t Kind;  /* upStarted (Value: bytes to send), upProgress (bytes sent so far), upEnded (0) */
  int32_t Value;
} TVEPProgressEvent;

/* Stores the callback (NULL: no events); flags switch on diagnostics as vepMessage events
 * (MessageEventsFlag) and/or as message boxes (MessageBoxFlag). */
VEP_API void VEPSetApplicationCallback(TVEPApplicationCallback callback, unsigned char flags);
/* Broadcasts a discovery request; answers arrive as vepDeviceFound events. */
VEP_API void VEPDiscover(void);
/* Asks the device with this 8-byte node ID for its IP settings (vepIPConfig). */
VEP_API void VEPGetIP(const unsigned char* deviceID);
/* Sends new IP settings (dotted texts; dhcp non-zero: obtain by DHCP); answered by vepIPSet. */
VEP_API void VEPSetIP(const unsigned char* deviceID, const char* address, const char* mask,
                      const char* gateway, unsigned char dhcp);
/* Turns an ID text ("00:0A:1B:2C:3D:4E") into the 8-byte node ID at idOut. */
VEP_API void VEPMacToID(const char* idText, unsigned char* idOut);
/* Uploads a firmware file to the device by TFTP; blocks. 0: done; 1: the device refused access
 * (try again later); 2: the device reported file not found; 3: any other failure. */
VEP_API int32_t VEPUpgradeDevice(const char* fileName, const char* deviceAddress);
/* 1 when the address answers one ICMP echo request within 5 s; blocks. */
VEP_API unsigned char VEPPingDevice(const char* deviceAddress);
/* Finds a free address in the subnet of the local interface localAddress and writes it, the
 * interface's mask and gateway (16-byte buffers each). 1 when found; nothing written otherwise. */
VEP_API unsigned char VEPChooseIPAddress(const char* localAddress, char* addressOut, char* maskOut,
                                         char* gatewayOut);

/* For programs without a GUI loop. Starts the engine once per process; the calling thread
 * becomes its main thread. 1 when the engine runs in this process, 0 when another process on
 * this network holds the engine lock. */
VEP_API unsigned char VEPStartEngine(void);
/* Runs the engine's main-thread work (received datagrams, timers) on the calling thread for
 * about timeoutMs milliseconds; events are raised inside it. */
VEP_API void VEPProcessEvents(unsigned int timeoutMs);

#ifdef __cplusplus
}
#endif

#endif /* SCOUTOR_VEP_H */
