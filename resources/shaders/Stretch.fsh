// Tall funhouse mirror: the rows around the centre are pulled apart vertically and those above
// and below squeezed to make room, strongest down the centre's column so that horizontal lines
// bow. Only the vertical direction (s, down the screen) changes.
// Full precision where the fragment stage offers it, mediump elsewhere.
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif

uniform sampler2D s_texture;
// The frame coordinate of the effect's centre (the middle of the view unless moved).
uniform vec2 u_center;

varying vec2 v_texCoord;

void main() {
    float down = v_texCoord.x - u_center.x;
    // The stretch spans from the centre to the top edge above it and to the bottom edge below,
    // so both ends of the column stay in place wherever the centre is.
    float span = max(down < 0.0 ? u_center.x : 1.0 - u_center.x, 0.001);
    float d = 0.5 * down / span;                 // -0.5 at the top, 0.5 at the bottom
    float across = v_texCoord.y - u_center.y;    // -1 .. 1 across the screen from the centre
    across = clamp(2.0 * across, -1.0, 1.0);
    // Magnification at the centre's row: 2x on its column, 1.5x a screen half-width away.
    float strength = 0.5 - 0.17 * across * across;
    // d' = d (1 - a + 4 a d^2) keeps both ends of the column in place and stays monotonic.
    float scale = 1.0 - strength + 4.0 * strength * d * d;
    gl_FragColor = texture2D(s_texture, vec2(u_center.x + down * scale, v_texCoord.y));
}
