// libio: the port-I/O library. The programs call only SetPortBit, ClrPortBit and
// GetPortBit; the byte and word transfers, NotPortBit and IsDriverInstalled are there
// for other callers. The two shift operations of the classic port-I/O table have no
// meaning on a parallel port and are not exported. Arguments are a 16-bit port
// address and, for the bit operations, a bit number 0 to 7.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

void PortOut(short port, char data);
void PortWordOut(short port, short data);
void PortDWordOut(short port, int data);
char PortIn(short port);
short PortWordIn(short port);
int PortDWordIn(short port);
void SetPortBit(short port, char bit);
void ClrPortBit(short port, char bit);
void NotPortBit(short port, char bit);
short GetPortBit(short port, char bit);  // -1 when the bit reads 1, 0 when it reads 0
short IsDriverInstalled(void);

#ifdef __cplusplus
}
#endif
