#include "stream/stream_start.h"

#include <optional>
#include <utility>

#include "host/log.h"

namespace vorlix {

StreamSettings stream_settings(const StreamConfig& config) {
    StreamSettings settings;
    settings.fps = config.fps;
    settings.quality = config.quality;
    settings.max_bitrate = config.max_bitrate;
    settings.audio = config.audio;
    return settings;
}

std::shared_ptr<SoundOutput> stream_sound_output(const StreamOutput& output) {
    std::optional<LinkWriter> session;
    if (output.kind == StreamOutput::Kind::device_session && output.link.valid()) session = output.link;
    if (output.watchers)
        return std::make_shared<LinkSoundOutput>(std::move(session),
                                                 std::shared_ptr<const WebWatcherRegistry>(output.watchers));
    // Without a registry there are no watchers to hear the sound.
    return std::make_shared<LinkSoundOutput>(std::move(session), [] { return std::vector<LinkWriter>(); },
                                             [] { return false; });
}

SoundStarter stream_sound_starter(std::shared_ptr<StreamOutput> output, SoundSourceFactory make_source) {
    return [output = std::move(output),
            make_source = std::move(make_source)](std::shared_ptr<StreamControl> control) -> std::optional<std::thread> {
        if (!output || !make_source) return std::nullopt;
        return start_sound_thread(make_source, stream_sound_output(*output), std::move(control));
    };
}

void start_output_stream(StreamSlot& slot, const StreamConfig& config, std::int64_t stream_number,
                         std::shared_ptr<StreamOutput> output, SoundSourceFactory make_source) {
    if (!output) {
        // Nothing to stream to; the running stream still gives way.
        slot.stop_stream();
        log_line("could not start the stream: it has no audience");
        return;
    }
    auto audience = make_output_audience(output);
    slot.start_stream(stream_settings(config), stream_number, std::move(audience),
                      stream_sound_starter(output, std::move(make_source)));
}

}  // namespace vorlix
