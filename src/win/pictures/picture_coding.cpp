#include "win/pictures/picture_coding.h"

#include <objbase.h>
#include <shlwapi.h>
#include <wincodec.h>

#include "host/log.h"
#include "win/capture/win_util.h"
#include "win/stream/com_ref.h"

namespace vorlix {

namespace {

constexpr HRESULT kPixelFormatNotTaken = static_cast<HRESULT>(0x88982F80);  // WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT

Error com_error(const char* step, HRESULT hr) {
    return Error(std::string(step) + ": " + capture_detail::hresult_text(hr));
}

// A call that reports success but gives back no object fails as well.
template <typename T>
bool failed(HRESULT hr, const ComRef<T>& out) {
    return FAILED(hr) || !out;
}

Result<ComRef<IWICImagingFactory>> make_factory() {
    ComRef<IWICImagingFactory> factory;
    const HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IWICImagingFactory, factory.put_void());
    if (failed(hr, factory)) return com_error("the imaging factory", FAILED(hr) ? hr : E_POINTER);
    return factory;
}

Result<Bytes> read_back(IStream& stream) {
    STATSTG stat{};
    HRESULT hr = stream.Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return com_error("reading the stream's size", hr);
    if (stat.cbSize.QuadPart > 0xFFFFFFFFull) return Error("the encoded picture is too large");
    LARGE_INTEGER start{};
    hr = stream.Seek(start, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return com_error("rewinding the stream", hr);
    Bytes bytes(static_cast<std::size_t>(stat.cbSize.QuadPart));
    ULONG read = 0;
    hr = stream.Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    if (FAILED(hr)) return com_error("reading the stream", hr);
    bytes.resize(read);
    return bytes;
}

std::optional<Bytes> logged(Result<Bytes> encoded, const char* kind) {
    if (!encoded) {
        log_line(std::string(kind) + ": " + encoded.error().text);
        return std::nullopt;
    }
    return std::move(encoded).value();
}

Error refused_size(std::uint32_t width, std::uint32_t height) {
    return Error("a picture of " + std::to_string(width) + "x" + std::to_string(height) + " pixels is refused");
}

}  // namespace

Result<Bytes> win_image_encode(const GUID& container, const GUID& format, std::uint32_t width, std::uint32_t height,
                               std::uint32_t stride, ByteView pixels, std::optional<float> quality) {
    if (std::uint64_t{stride} * height > pixels.size() || std::uint64_t{stride} * height > 0xFFFFFFFFull)
        return Error("too few pixel bytes");
    ComApartment com;
    auto factory = make_factory();
    if (!factory) return factory.error();

    ComRef<IStream> stream(SHCreateMemStream(nullptr, 0));
    if (!stream) return Error("could not make a memory stream");

    ComRef<IWICBitmapEncoder> encoder;
    HRESULT hr = (*factory)->CreateEncoder(container, nullptr, encoder.put());
    if (failed(hr, encoder)) return com_error("making the encoder", FAILED(hr) ? hr : E_POINTER);
    hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
    if (FAILED(hr)) return com_error("starting the encoder", hr);

    ComRef<IWICBitmapFrameEncode> frame;
    ComRef<IPropertyBag2> options;
    hr = encoder->CreateNewFrame(frame.put(), options.put());
    if (failed(hr, frame)) return com_error("making the frame", FAILED(hr) ? hr : E_POINTER);
    if (quality && options) {
        PROPBAG2 name{};
        name.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_R4;
        value.fltVal = *quality;
        options->Write(1, &name, &value);  // an encoder that refuses it keeps its own quality
    }
    hr = frame->Initialize(quality ? options.get() : nullptr);
    if (FAILED(hr)) return com_error("starting the frame", hr);
    hr = frame->SetSize(width, height);
    if (FAILED(hr)) return com_error("setting the size", hr);
    WICPixelFormatGUID taken = format;
    hr = frame->SetPixelFormat(&taken);
    if (FAILED(hr)) return com_error("setting the pixel format", hr);
    if (!IsEqualGUID(taken, format)) return com_error("pixel format not taken", kPixelFormatNotTaken);
    hr = frame->WritePixels(height, stride, stride * height, const_cast<BYTE*>(pixels.data()));
    if (FAILED(hr)) return com_error("writing the pixels", hr);
    hr = frame->Commit();
    if (FAILED(hr)) return com_error("finishing the frame", hr);
    hr = encoder->Commit();
    if (FAILED(hr)) return com_error("finishing the picture", hr);
    return read_back(*stream.get());
}

std::optional<Bytes> encode_png_bgra(std::uint32_t width, std::uint32_t height, ByteView pixels) {
    if (!encoder_input_fits(width, height, pixels.size())) return std::nullopt;
    return logged(win_image_encode(GUID_ContainerFormatPng, GUID_WICPixelFormat32bppBGRA, width, height, width * 4,
                                   pixels, std::nullopt),
                  "PNG");
}

std::optional<Bytes> encode_png_rgba(std::uint32_t width, std::uint32_t height, ByteView pixels) {
    if (!encoder_input_fits(width, height, pixels.size())) return std::nullopt;
    return encode_png_bgra(width, height, swap_red_blue(width, height, pixels));
}

std::optional<Bytes> encode_png_24(std::uint32_t width, std::uint32_t height, ByteView pixels) {
    if (!encoder_input_fits(width, height, pixels.size())) return std::nullopt;
    const Bytes rows = bgra_to_bgr24(width, height, pixels);
    return logged(win_image_encode(GUID_ContainerFormatPng, GUID_WICPixelFormat24bppBGR, width, height,
                                   static_cast<std::uint32_t>(bgr24_stride(width)), rows, std::nullopt),
                  "PNG");
}

std::optional<Bytes> encode_jpeg_24(std::uint32_t width, std::uint32_t height, ByteView pixels, float quality) {
    if (!encoder_input_fits(width, height, pixels.size())) return std::nullopt;
    const Bytes rows = bgra_to_bgr24(width, height, pixels);
    return logged(win_image_encode(GUID_ContainerFormatJpeg, GUID_WICPixelFormat24bppBGR, width, height,
                                   static_cast<std::uint32_t>(bgr24_stride(width)), rows, quality),
                  "JPEG");
}

Result<Picture> try_decode_image(ByteView bytes, std::uint64_t max_pixels) {
    if (const auto stated = png_stated_size(bytes); stated && !decoded_size_allowed(stated->width, stated->height, max_pixels))
        return refused_size(stated->width, stated->height);
    ComApartment com;
    auto factory = make_factory();
    if (!factory) return factory.error();
    if (bytes.size() > 0xFFFFFFFFull) return Error("the picture is too large");

    ComRef<IStream> stream(SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size())));
    if (!stream) return Error("could not make a memory stream");
    ComRef<IWICBitmapDecoder> decoder;
    HRESULT hr = (*factory)->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                                      decoder.put());
    if (failed(hr, decoder)) return com_error("reading the picture", FAILED(hr) ? hr : E_POINTER);
    ComRef<IWICBitmapFrameDecode> frame;
    hr = decoder->GetFrame(0, frame.put());
    if (failed(hr, frame)) return com_error("reading its first frame", FAILED(hr) ? hr : E_POINTER);
    ComRef<IWICFormatConverter> converter;
    hr = (*factory)->CreateFormatConverter(converter.put());
    if (failed(hr, converter)) return com_error("making a converter", FAILED(hr) ? hr : E_POINTER);
    hr = converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                               WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) return com_error("converting to 32-bit pixels", hr);
    UINT width = 0;
    UINT height = 0;
    hr = converter->GetSize(&width, &height);
    if (FAILED(hr)) return com_error("reading the size", hr);
    if (!decoded_size_allowed(width, height, max_pixels)) return refused_size(width, height);

    Picture picture{width, height, Bytes(std::size_t{width} * height * 4)};
    hr = converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(picture.pixels.size()), picture.pixels.data());
    if (FAILED(hr)) return com_error("reading the pixels", hr);
    return picture;
}

std::optional<Picture> decode_image(ByteView bytes, std::uint64_t max_pixels) {
    auto picture = try_decode_image(bytes, max_pixels);
    if (!picture) {
        log_line("picture from the device: " + picture.error().text);
        return std::nullopt;
    }
    return std::move(picture).value();
}

}  // namespace vorlix
