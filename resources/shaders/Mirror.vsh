// Hands the fragment stage the frame coordinate and its reflection about the vertical centre
// line of the screen (t runs across the screen, so the reflection is t -> 1 - t).
attribute vec2 position;
attribute vec2 texCoord;

varying vec2 v_texCoord;
varying vec2 v_reflected;

void main() {
    v_texCoord = texCoord;
    v_reflected = vec2(texCoord.x, 1.0 - texCoord.y);
    gl_Position = vec4(position, 0.0, 1.0);
}
