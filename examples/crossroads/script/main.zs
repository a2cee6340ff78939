; Crossroads: a short game that shows how the pieces of a game fit together. At dusk the player
; and a girl reach a fork in the road. An opening movie plays, the scene builds up, the message
; window asks which way to go and a right click opens a popup menu of the two roads. Night falls
; through a rule transition, and the game saves where it stands: the next run offers to go on
; from there. The menu bar's "ゲーム" menu saves or quits at any time.
;
; The kit makes the pictures, the movie, the girl and the sounds (see README.md): cg/bg.bmp,
; cg/window.bmp, mv/intro.mpg, cg/girl.psb, bgm/demo.ogg and se/chime.wav.

; What a save keeps: the integers of class 2 (see *save).
global class 2 int chapter = 0  ; 0 at the crossroads, 1 past it
global class 2 int road = 0     ; the menu id of the road taken: 11 left, 12 right
int playing = 1
int saved = 0
int answer = 0
int waited = 0
int continued = 0

*SYSTEM_START
    fps rate = 60
    call *menu_bar
    call *opening
    call *scene
    ; A save of an earlier run: ask whether to go on from it. @98 is the save folder; a yes/no
    ; box answers 1 for yes and 2 for no.
    file_info file = @98 + "save01.sd", exists = 1, result = saved
    if saved == 1
        msgbox title = "Crossroads", text = "続きから遊びますか？", yes_no = 1, icon = 2, result = answer
        if answer == 1
            load file = "save01", dno = 1
            continued = 1
        endif
    endif
    if chapter == 0
        call *choose_road
        chapter = 1
        call *save
    endif
    call *nightfall
    call *ending
    wait frames = 90
    end

; The menu bar: a menu folder whose children are the bar's menus; window 0 shows it. A chosen
; item puts its id into @125, which the thread started here answers for the bar's items.
*menu_bar
    menu path = "bar/", text = "bar", order = 1
    menu path = "bar/game/", text = "ゲーム(&G)", order = 1
    menu path = "bar/game/save", text = "セーブ(&S)", order = 1, id = 1
    menu path = "bar/game/quit", text = "終了(&X)", order = 2, id = 2
    window index = 0, menu = "bar"
    task name = "menu_watch", label = *menu_watch
    return

; Runs beside the game for its whole length, one look at @125 a frame.
*menu_watch
    loop
        if @125 == 1
            @125 = 0
            call *save
        elif @125 == 2
            end
        endif
        wait frames = 1
    endloop

; The opening movie. While it plays the window shows only the movie; the script waits until
; movie_info reports that it has ended. Movies stay loose files beside the game.
*opening
    movie file = "mv/intro.mpg", play = 1
    loop
        movie_info playing = 0, result = playing
        if playing == 0
            break
        endif
        wait frames = 1
    endloop
    return

*scene
    sound name = "bgm", file = "bgm/demo", loops = 0, play = 1, fade = 1000
    layer name = "W0/bg", file = "cg/bg.bmp", order = 1
    ; The girl is an animated character, drawn on the GPU: she reaches the frame through the
    ; clear read-back layer W0/view. She moves only because the game ships emotedriver.dll.
    layer name = "W0/view", file = "", order = 3, width = 640, height = 480, readback = 1
    layer name = "W0/view", alpha_from = "W0/view"
    layer name = "W0/girl", file = "cg/girl.psb", gpu = 1, order = 6, x = 470, y = 372
    ; The message window fades in; its text is typed into a clear layer above it.
    layer name = "W0/window", file = "cg/window.bmp", order = 4, x = 20, y = 350, opacity = 0
    layer name = "W0/text", file = "", order = 5, x = 44, y = 368, width = 552, height = 84
    layer name = "W0/text", alpha_from = "W0/text"
    msg layer = "W0/text", delay = 30, end_wait = 0, end_page = 0
    font slot = 0, width = 22, height = 22, color = 0xFFFFFF
    ; Opacity steps build on the shown opacity: let a frame apply the zero first.
    wait frames = 1
    loop 16
        layer name = "W0/window", opacity += 16
        wait frames = 2
    endloop
    sound name = "se", file = "se/chime", loops = 1, play = 1
    return

; The choice: the question in the message window, then, at a right click, a popup menu at the
; mouse whose items report their ids in @125. @142 is the right button's counter (1 on the frame
; it goes down). Without an answer within five seconds the left road is taken.
*choose_road
    msg add_p = 1
    msg_text text = "分かれ道に来た。どちらへ行こう？"
    msg add_r = 1
    msg_text text = "（右クリックで道を選ぶ）"
    msg_end
    menu path = "roads/", text = "roads", order = 1
    menu path = "roads/left", text = "左の道（川沿い）", order = 1, id = 11
    menu path = "roads/right", text = "右の道（丘の上）", order = 2, id = 12
    @125 = 0
    waited = 0
    loop
        if @142 == 1
            menu_popup path = "roads", show = 1
        endif
        if @125 == 11 || @125 == 12
            break
        endif
        waited += 1
        if waited >= 300
            @125 = 11
            break
        endif
        wait frames = 1
    endloop
    road = @125
    @125 = 0
    return

; Night falls: a darker, bluer copy of the background is laid over it and shown through a rule.
; A rule (mask) is any picture of the layer's size: its blue channel says when each pixel shows
; (a value i once the progress reaches 256 - i); the softness spreads the edge. The background
; is its own rule here, so the night comes down from the bright top of the sky.
*nightfall
    layer_edit src = "W0/bg", dst = "W0/night", copy = 1
    layer_edit src = "W0/night", brightness = 1, value = 64
    layer_edit src = "W0/night", balance = 1, value = 0x707090
    layer name = "W0/night", order = 2, mask = "W0/bg", mask_soft = 64, mask_progress = 0
    loop 32
        layer name = "W0/night", mask_progress += 8
        wait frames = 2
    endloop
    return

; The last words follow the road taken, which the save keeps, and greet a player who came back.
*ending
    msg add_p = 1
    if road == 12
        msg_text text = "丘の上から、町の灯りが見えた。"
    elif road == 11
        msg_text text = "川沿いの道は、静かだった。"
    endif
    msg_end
    font slot = 0, width = 18, height = 18, color = 0xFFE8A0
    if continued == 1
        msg_text text = "Welcome back. Good night."
    else
        msg_text text = "Good night, and see you tomorrow."
    endif
    msg_end
    return

; A save: block 1 holds every integer of class 2 (int2 selects them) and goes into save01.sd in
; the save folder (savech/ beside the game). Loading block 1 puts them back.
*save
    save file = "save01", dno = 1, int2 = 1
    return
