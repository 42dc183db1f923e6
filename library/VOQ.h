// The C++ object model of the VOQ headset SDK (namespace VOQ).
#ifndef VOQ_H
#define VOQ_H

#include "voq/Atomic.h"
#include "voq/Channel.h"
#include "voq/Error.h"
#include "voq/Filter.h"
#include "voq/Headset.h"
#include "voq/ProcessingStage.h"
#include "voq/Protocol.h"
#include "voq/RingBuffer.h"
#include "voq/SerialPort.h"
#include "voq/Source.h"
#include "voq/Text.h"
#include "voq/Thread.h"
#include "voq/Time.h"

#endif
