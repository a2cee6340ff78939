// The GPU path's messages, in D3dTextId order.
#include "display/gpu_texts.h"

#include <array>
#include <string>

#include "platform/platform.h"

static const char* const kTexts[D3D_T_COUNT] = {
    "[DX]オブジェクトを生成できませんでした。",
    "エラー",
    "バックバッファサーフェス取得に失敗しました。",
    "オフスクリーンサーフェスを生成できませんでした。",
    "[Direct3D初期化エラー]Direct3Dの初期化に失敗しました。",
    "環境チェック",
    "ビデオカードにピクセルシェーダ 2.0以降 が実装されていません。\r\n"
    "ビデオカードが推奨スペック(※DirectX9.0 に対応したAGP/PCI-E接続ビデオカード、もしくはチップセット)を\r\n"
    "満たしていない可能性があります。\r\n\r\n"
    "お手数ですが、環境設定ツールを起動して、ゲーム画面の描画方法を【 CPU(バイリニア) 】に設定してから、\r\n"
    "もう一度ゲームを起動してください。",
    "Render テクスチャを生成できませんでした。",
    "GetSS テクスチャを生成できませんでした。",
    "[エラー] Shader Init Error.",
    "指定されたテクニック名が見つかりませんでした。",
    "指定されたテクニックが設定できませんでした。",
    "GPU描画が出来ませんでした。CPU描画に移行します。",
    "[ID:%s] 読み込みエラー..",
    "メモリ不足エラー.",
    "テクスチャを生成できませんでした。\r\nVRAM容量不足の可能性があります。\r\n\r\n"
    "※解決方法\r\n"
    "ゲームを終了し、環境設定ツールでゲーム画面の描画方法を【 CPU(バイリニア) 】に設定してから、\r\n"
    "もう一度ゲームを起動してください。",
    "Err.%d テクスチャリソースレベル%d のサーフェスを取得できませんでした。",
    "サーフェス転送失敗。",
    "転送先バッファとオフスクリーンバッファのサイズが異なります。\r\n(%d, %d) --- (%d, %d)",
    "ＣＧサイズが大きすぎます。X=%d, Y=%d",
    "メモリ確保エラーです。[%s](%d, %d)",
};

const char* D3dText(D3dTextId id) {
  // Converted all at once, the first time, under the static's own guard.
  static const std::array<std::string, D3D_T_COUNT> converted = [] {
    std::array<std::string, D3D_T_COUNT> a;
    for (int i = 0; i < D3D_T_COUNT; i++) a[i] = PlatUtf8ToSjis(kTexts[i]);
    return a;
  }();
  if (id < 0 || id >= D3D_T_COUNT) return "";
  return converted[id].c_str();
}
