# The Encoding Standard's ISO-2022-JP decoder, written here step for step
# from its text (python's iso2022_jp codec reads otherwise: it passes
# unknown escapes through and takes no error at a line feed in a two-byte
# run). decode(bytes) gives the text, U+FFFD for each error.


def jis0208(lead, trail):
    # Index jis0208 by the Shift_JIS code of its row and cell, as the
    # Standard's own Shift_JIS decoder reads it (python's cp932 is the table).
    row, cell = lead - 0x21, trail - 0x21
    first = row // 2 + (0x81 if row < 62 else 0xC1)
    second = cell + (0x40 if row % 2 == 0 else 0x9F)
    if row % 2 == 0 and second >= 0x7F:
        second += 1
    if 0x54 <= row <= 0x5D:
        # Rows 85 to 94 of the index hold nothing but NEC's IBM extensions
        # (rows 89 to 92), which cp932 keeps under other codes.
        if not 0x58 <= row <= 0x5B:
            return None
    try:
        text = bytes([first, second]).decode("cp932")
    except UnicodeDecodeError:
        return None
    return text if len(text) == 1 and not "\ue000" <= text <= "\uf8ff" else None


def decode(data):
    # The Encoding Standard's ISO-2022-JP decoder, step for step.
    out, state, output_state, lead, flag, i = [], "ascii", "ascii", 0, False, 0
    while True:
        byte = data[i] if i < len(data) else None
        i += 1
        if state in ("ascii", "roman", "katakana", "lead") and byte in (0x1B, None):
            if byte is None:
                break
            state = "escape start"
        elif state in ("ascii", "roman"):
            flag = False
            if byte <= 0x7F and byte not in (0x0E, 0x0F):
                out.append({0x5C: "\xa5", 0x7E: "\u203e"}.get(byte, chr(byte)) if state == "roman" else chr(byte))
            else:
                out.append("\ufffd")
        elif state == "katakana":
            flag = False
            out.append(chr(0xFF61 - 0x21 + byte) if 0x21 <= byte <= 0x5F else "\ufffd")
        elif state == "lead":
            flag = False
            if 0x21 <= byte <= 0x7E:
                lead, state = byte, "trail"
            else:
                out.append("\ufffd")
        elif state == "trail":
            if byte == 0x1B:
                state = "escape start"
                out.append("\ufffd")
            elif byte is None:
                state = "lead"
                i -= 1
                out.append("\ufffd")
            else:
                state = "lead"
                code = jis0208(lead, byte) if 0x21 <= byte <= 0x7E else None
                out.append(code or "\ufffd")
        elif state == "escape start":
            if byte in (0x24, 0x28):
                lead, state = byte, "escape"
            else:
                i -= 1
                flag, state = False, output_state
                out.append("\ufffd")
        else:
            new = {(0x28, 0x42): "ascii", (0x28, 0x4A): "roman", (0x28, 0x49): "katakana",
                   (0x24, 0x40): "lead", (0x24, 0x42): "lead"}.get((lead, byte))
            if new:
                state = output_state = new
                if flag:
                    out.append("\ufffd")
                flag = True
            else:
                i -= 2
                flag, state = False, output_state
                out.append("\ufffd")
    return "".join(out)
