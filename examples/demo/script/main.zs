; The demo game: it sets its frame rate, counts the frames it has waited through, and ends the
; program after three seconds. It grows as the engine does.
global int waited = 0
global str greeting = "Zephra " + "demo"

*SYSTEM_START
    fps rate = 60, skip = 1
    call *pause, 60
    call *pause, 120
    end

; Waits the given number of frames and counts them.
*pause
    wait frames = @53[1]
    waited += @53[1]
    return waited
