// Tall funhouse mirror: the middle rows are pulled apart vertically and the top and bottom
// squeezed to make room, strongest down the centre column so that horizontal lines bow.
// Only the vertical direction (s, down the screen) changes.
// Full precision where the fragment stage offers it, mediump elsewhere.
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif

uniform sampler2D s_texture;

varying vec2 v_texCoord;

void main() {
    float down = v_texCoord.x - 0.5;            // -0.5 at the top, 0.5 at the bottom
    float across = 2.0 * (v_texCoord.y - 0.5);  // -1 .. 1 from one side to the other
    // Magnification at the middle row: 2x on the centre column, 1.5x at the sides.
    float strength = 0.5 - 0.17 * across * across;
    // s' = s (1 - a + 4 a s^2) keeps both ends of the column in place and stays monotonic.
    float scale = 1.0 - strength + 4.0 * strength * down * down;
    gl_FragColor = texture2D(s_texture, vec2(0.5 + down * scale, v_texCoord.y));
}
