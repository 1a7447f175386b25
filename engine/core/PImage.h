#pragma once
// The engine's only pixel container: a bottom-up buffer of 8 (grey) or 24
// (B, G, R) bits per pixel, with the file it came from.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "PanoramaLib.h"
#include "PlaneMemory.h"

namespace PanoramaLib {

class PImage : public OrvexBase::RefCounter, public IDib {
public:
    PImage();
    // Copies depth, size, file name, the unloaded flag and, when the source
    // has any, the pixels. Throws dibException when the copy cannot be made.
    explicit PImage(const IDib& source);
    PImage(const PImage&) = delete;
    PImage& operator=(const PImage&) = delete;
    ~PImage() override;

    void AddRef() override { AddRefImpl(); }
    void Release() override { ReleaseImpl(); }
    OrvexBase::RefCounter* QueryInterface(int id) override;

    bool IsValid() const override { return bits != nullptr; }
    std::uint8_t* GetBits() const override { return bits; }
    int GetStride() const override;
    int GetBpp() const override { return bpp; }
    int GetWidth() const override { return width; }
    int GetHeight() const override { return height; }

    void Reload() override;
    bool LoadFromFile(const std::wstring& path, std::wstring* errorText) override;
    bool SaveToFile(const std::wstring& path, std::wstring* errorText) override;
    void Unload() override;
    bool IsUnloaded() const override { return unloaded; }

    bool Create(int bpp, int width, int height, bool allocate) override;
    void Destroy() override;

    std::wstring GetFileTitle() const override;
    std::wstring GetFileName() const override { return path; }
    void SetFileName(const std::wstring& newPath) override { path = newPath; }

    // Bytes per row for a depth and width: the packed row rounded up to 4.
    static std::size_t StrideFor(int bpp, int width);
    // Whether the last Reload read the pixels back (Reload itself has no result).
    bool LastReloadSucceeded() const { return lastReloadOk; }

private:
    void FreePixels();

    std::uint8_t* bits = nullptr;
    // Zero-filled, like the system's bitmap memory; bits points into it.
    PlaneMemory::Buffer<std::uint8_t> pixels;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bpp = 0;
    std::wstring path;
    bool unloaded = false;
    bool lastReloadOk = true;
};

}  // namespace PanoramaLib
