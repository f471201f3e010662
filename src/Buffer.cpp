#include "Buffer.h"

Buffer::Buffer(unsigned char* newData, int newSize) : data(newData), size(newSize) {}

unsigned char* Buffer::getData() const {
    return data;
}

void Buffer::setData(unsigned char* newData) {
    data = newData;
}

int Buffer::getSize() const {
    return size;
}

void Buffer::setSize(int newSize) {
    size = newSize;
}
