#pragma once

// A non-owning view of caller-owned bytes. Before a fill, `size` is the capacity
// the filler may use; after it, the count the filler produced.
class Buffer {
public:
    Buffer() = default;
    Buffer(unsigned char* newData, int newSize);

    unsigned char* getData() const;
    void setData(unsigned char* newData);
    int getSize() const;
    void setSize(int newSize);

private:
    unsigned char* data = nullptr;
    int size = 0;
};
