// Besides the frame coordinate, hands the fragment stage four points around it (three screen
// pixels out on the diagonals) for the glow.
attribute vec2 position;
attribute vec2 texCoord;

varying vec2 v_texCoord;
varying vec4 v_haloA;
varying vec4 v_haloB;

// Three screen pixels of the 320-pixel-wide surface in frame coordinates (640 x 480 frame).
const vec2 kReach = vec2(4.5 / 640.0, 4.5 / 480.0);

void main() {
    v_texCoord = texCoord;
    v_haloA = vec4(texCoord - kReach, texCoord + kReach);
    v_haloB = vec4(texCoord + vec2(kReach.x, -kReach.y), texCoord + vec2(-kReach.x, kReach.y));
    gl_Position = vec4(position, 0.0, 1.0);
}
