// The encoding step the kit's libavcodec writers share: one frame (or the flush) into an encoder,
// every packet it gives into the muxer.
#pragma once
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// Sets *err to what and gives false, for one-line failure returns.
bool KitAvFail(std::string* err, const char* what);
// Sends f (null: the flush) to c and writes each packet through pkt into stream st of fmt.
// False with *err when the encoder or the muxer fails.
bool KitAvEncode(AVFormatContext* fmt, AVCodecContext* c, AVStream* st, AVPacket* pkt, AVFrame* f, std::string* err);
