// Besides the frame coordinate, hands the fragment stage four points around it (two screen
// pixels out on the diagonals): a thermal sensor sees a softened picture.
attribute vec2 position;
attribute vec2 texCoord;

varying vec2 v_texCoord;
varying vec4 v_nearA;
varying vec4 v_nearB;

// Two screen pixels of the 320-pixel-wide surface in frame coordinates (640 x 480 frame).
const vec2 kReach = vec2(3.0 / 640.0, 3.0 / 480.0);

void main() {
    v_texCoord = texCoord;
    v_nearA = vec4(texCoord - kReach, texCoord + kReach);
    v_nearB = vec4(texCoord + vec2(kReach.x, -kReach.y), texCoord + vec2(-kReach.x, kReach.y));
    gl_Position = vec4(position, 0.0, 1.0);
}
