// OCR-504 radiometer driver on the optode port.
#pragma once

struct ocrDriver {
    int state;
    unsigned int old_tick10ms;
    unsigned int new_tick10ms;
    unsigned int bufIndx;
    int dataCnt;
    char buf[128];
};

extern ocrDriver ocr;
