; The demo game: an evening scene. The background appears, a figure fades in, then the message
; window; after a while the figure steps aside and fades out, and the program ends. The pictures
; are drawn by the kit (zpkit demo-art), so the demo carries no art of its own.
*SYSTEM_START
    fps rate = 60, skip = 1
    sound name = "bgm", file = "bgm/demo", loops = 0, play = 1, fade = 1000
    layer name = "W0/bg", file = "cg/bg.bmp", order = 1
    layer name = "W0/chara", file = "cg/chara.bmp", order = 2, x = 220, y = 120, opacity = 0
    layer name = "W0/window", file = "cg/window.bmp", order = 3, x = 20, y = 350, opacity = 0
    ; Opacity steps build on the shown opacity: let the frame apply the zero first.
    wait frames = 1
    call *fade_in, "W0/chara"
    call *fade_in, "W0/window"
    sound name = "se", file = "se/chime", loops = 1, play = 1
    call *pause, 90
    layer name = "W0/chara", x -= 120
    call *pause, 30
    call *fade_out, "W0/chara"
    layer_delete name = "W0/chara"
    call *pause, 60
    end

; Raises a layer's opacity to full in 16 steps of two frames.
*fade_in
    call *step, @55[1], 16
    call *step, @55[1], 16
    call *step, @55[1], 16
    call *step, @55[1], 16
    call *step, @55[1], 16
    call *step, @55[1], 16
    call *step, @55[1], 16
    call *step, @55[1], 16
    call *step, @55[1], 16
    call *step, @55[1], 16
    call *step, @55[1], 16
    call *step, @55[1], 16
    call *step, @55[1], 16
    call *step, @55[1], 16
    call *step, @55[1], 16
    call *step, @55[1], 16
    return

; Lowers a layer's opacity to nothing in 8 steps.
*fade_out
    call *step, @55[1], -32
    call *step, @55[1], -32
    call *step, @55[1], -32
    call *step, @55[1], -32
    call *step, @55[1], -32
    call *step, @55[1], -32
    call *step, @55[1], -32
    call *step, @55[1], -32
    return

; One opacity step of the named layer, then two frames.
*step
    layer name = @55[1], opacity += @53[2]
    wait frames = 2
    return

; Waits the given number of frames.
*pause
    wait frames = @53[1]
    return
