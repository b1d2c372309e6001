// OCR-504 radiometer driver on the optode port.  The driver record lives
// here; the state machine comes with the instrument drivers.
#include "instruments/ocr.h"

ocrDriver ocr;
