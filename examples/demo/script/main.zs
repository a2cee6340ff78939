; The demo game: an evening scene. The background appears, a figure fades in beside a girl who
; breathes and blinks (an animated character, drawn on the GPU and read back into "W0/view"),
; then the message window, in which two lines are typed; after a while the figure steps aside and
; fades out, the girl turns her head, dusk falls over the scene (a cross-fade into a darkened
; copy of the background), and the program ends. The pictures and the girl are drawn by
; the kit (zpkit demo-art, zpkit demo-chara), so the demo carries no art of its own. First comes a
; short intro movie (also made by the kit).
int intro_playing = 1
*SYSTEM_START
    fps rate = 60, skip = 1
    movie file = "mv/intro.mpg", play = 1
    loop
        movie_info playing = 0, result = intro_playing
        if intro_playing == 0
            break
        endif
        wait frames = 1
    endloop
    sound name = "bgm", file = "bgm/demo", loops = 0, play = 1, fade = 1000
    layer name = "W0/bg", file = "cg/bg.bmp", order = 1
    layer name = "W0/chara", file = "cg/chara.bmp", order = 2, x = 220, y = 120, opacity = 0
    ; The GPU picture (the girl) reaches the frame through this clear read-back layer.
    layer name = "W0/view", file = "", order = 3, width = 640, height = 480, readback = 1
    layer name = "W0/view", alpha_from = "W0/view"
    layer name = "W0/girl", file = "cg/girl.psb", gpu = 1, order = 6, x = 520, y = 372
    layer name = "W0/window", file = "cg/window.bmp", order = 4, x = 20, y = 350, opacity = 0
    ; Opacity steps build on the shown opacity: let the frame apply the zero first.
    wait frames = 1
    call *fade_in, "W0/chara"
    call *fade_in, "W0/window"
    sound name = "se", file = "se/chime", loops = 1, play = 1
    call *say
    window index = 0, fullscreen = 1
    call *pause, 90
    layer name = "W0/chara", x -= 120
    emote name = "W0/girl", motion = "turn", start = 1
    call *pause, 30
    call *fade_out, "W0/chara"
    window index = 0, fullscreen = 0
    layer_delete name = "W0/chara"
    call *dusk
    call *pause, 60
    end

; Dusk falls: a darker, bluer copy of the background (the brightness and colour balance effects)
; is cross-faded in over the scene in eight steps, from a copy of the daylight picture.
*dusk
    layer_edit src = "W0/bg", dst = "W0/day", copy = 1
    layer_edit src = "W0/bg", dst = "W0/dusk", brightness = 1, value = 72
    layer_edit src = "W0/dusk", balance = 1, value = 0x787898
    layer name = "W0/day", visible = 0
    layer name = "W0/dusk", visible = 0
    call *dusk_step, 32
    call *dusk_step, 64
    call *dusk_step, 96
    call *dusk_step, 128
    call *dusk_step, 160
    call *dusk_step, 192
    call *dusk_step, 224
    call *dusk_step, 255
    return

; One step of the cross-fade into the shown background, then two frames.
*dusk_step
    layer_edit src = "W0/day", dst = "W0/dusk", layer2 = "W0/bg", crossfade = 1, value = @53[1]
    wait frames = 2
    return

; Types a Japanese and an English line into the message window and keeps them shown: no click
; wait and no page clear at the end of each line.
*say
    ; A transparent picture for the text: the canvas grows in opaque black, and its own blue
    ; channel (0) as alpha makes it clear.
    layer name = "W0/text", file = "", order = 5, x = 44, y = 368, width = 552, height = 84
    layer name = "W0/text", alpha_from = "W0/text"
    msg layer = "W0/text", delay = 40, end_wait = 0, end_page = 0
    font slot = 0, width = 24, height = 24, color = 0xFFFFFF
    msg_text text = "今晩は。ゼフラの世界へ、ようこそ！"
    msg_end
    font slot = 0, width = 20, height = 20, color = 0xFFE8A0
    msg_text text = "Good evening, and welcome to Zephra."
    msg_end
    return

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
